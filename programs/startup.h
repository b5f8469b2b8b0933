#pragma once

// The start of a run: the command line, then either one check without a display or the windows,
// each on a program folder that only one Zentrow uses at a time.
namespace startup {

int run(int argc, char *argv[]);

} // namespace startup
