# target_sources(pipshift_online PRIVATE ...) for the high-score window goes here.
