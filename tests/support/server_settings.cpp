#include "support/server_settings.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>

namespace {

std::string ServerFilePath() {
    if (const char* dir = std::getenv("FT_TEST_SERVERS_DIR")) return std::string(dir) + "/env";
    const std::string source = __FILE__;  // <repo>/tests/support/this file
    return source.substr(0, source.rfind("/tests/")) + "/build/servers/env";
}

std::map<std::string, std::string> LoadServerFile() {
    std::map<std::string, std::string> values;
    std::ifstream file(ServerFilePath());
    std::string line;
    while (std::getline(file, line)) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

}  // namespace

std::string Setting(const std::string& name) {
    if (const char* value = std::getenv(name.c_str())) return value;
    static const std::map<std::string, std::string> file = LoadServerFile();
    const auto it = file.find(name);
    return it == file.end() ? std::string() : it->second;
}

bool InCi() {
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

std::string MissingSetting(std::initializer_list<std::string> names) {
    for (const std::string& name : names)
        if (Setting(name).empty()) return name;
    return "";
}

std::string CommandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        pclose(pipe);
    }
    return output;
}
