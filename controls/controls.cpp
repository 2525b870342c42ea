// The controls library needs at least one source until the controls land.
