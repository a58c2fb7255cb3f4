# target_sources(pipshift_online PRIVATE ...) for the download client and update check goes here.
