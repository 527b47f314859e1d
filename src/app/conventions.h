// The Linux build's command-line conventions: --help, --version and unknown options.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// Answers --help (-h) and --version on out, and an unknown option with one line on err,
// before anything else runs. Returns the exit status when the process ends here (0, or 2
// for an unknown option), or -1 when the command line is for a run. args excludes the
// program name.
int AnswerConventionalOptions(const std::vector<std::string>& args, std::ostream& out,
                              std::ostream& err);
