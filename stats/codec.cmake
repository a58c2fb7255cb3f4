# target_sources(pipshift_stats PRIVATE ...) and the pipshift-tally tool for the codec go here.
