# target_sources(pipshift_online PRIVATE ...) for the background text fetch goes here.
