// The one source of the precompiled-header targets: the headers are compiled
// with the test programs' flags here and reused by every test program.
