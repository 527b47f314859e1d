// varnel-pkg: looks inside updater files, extracts their program images, builds
// updaters from a parameter file, and makes sample program files.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// args excludes the program name. Returns the process exit code.
int RunPkgTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
