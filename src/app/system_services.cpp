#include "app/system_services.h"

#include <cctype>

std::string ExecutablePathFromCommandLine(const std::string& commandLine) {
    std::string path;
    if (!commandLine.empty() && commandLine[0] == '"') {
        const auto close = commandLine.find('"', 1);
        path = commandLine.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    } else {
        path = commandLine.substr(0, commandLine.find(' '));
    }
    std::string tail = path.size() >= 4 ? path.substr(path.size() - 4) : path;
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (tail != ".exe")
        path += ".exe";
    return path;
}

std::string JoinCommandLine(const std::vector<std::string>& items) {
    std::string line;
    for (const std::string& item : items) {
        if (!line.empty())
            line += ' ';
        if (item.empty() || item.find_first_of(" \t") != std::string::npos) {
            line += '"' + item + '"';
        } else {
            line += item;
        }
    }
    return line;
}
