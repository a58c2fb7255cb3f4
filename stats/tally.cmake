# target_sources(pipshift_stats PRIVATE ...) for the tally list window and tally file go here.
