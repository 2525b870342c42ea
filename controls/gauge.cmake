# The progress gauge.
target_sources(vorn_controls PRIVATE Gauges.cpp Gauges.h)
