#include "common/CommandLine.h"

namespace {

bool IsBlank(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 0x01 && byte <= 0x20) || byte == 0x7F;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> arguments;
    const std::size_t length = commandLine.size();
    std::size_t i = 0;
    while (true) {
        while (i < length && IsBlank(commandLine[i])) {
            ++i;
        }
        if (i >= length) {
            break;
        }
        std::string argument;
        bool quoted = false;
        while (i < length && (quoted || !IsBlank(commandLine[i]))) {
            if (commandLine[i] == '"') {
                quoted = !quoted;
            } else {
                argument += commandLine[i];
            }
            ++i;
        }
        // Only quotes, such as an empty pair, make no argument: they count as a blank.
        if (!argument.empty()) {
            arguments.push_back(std::move(argument));
        }
    }
    return arguments;
}

std::vector<std::string> NonEmptyArguments(int argc, char** argv)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] != nullptr && argv[i][0] != '\0')
            arguments.emplace_back(argv[i]);
    }
    return arguments;
}
