// Keeps a subsystem library buildable before it has sources of its own.
