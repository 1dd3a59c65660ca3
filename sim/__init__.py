"""Device and server simulators (Python 3 standard library only) for tests, demo and benchmarks."""
