#include <iostream>
#include <string>
#include <vector>

#include "app/pkg_tool.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunPkgTool(args, std::cout, std::cerr);
}
