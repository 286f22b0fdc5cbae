// lustra: the command-line host of the LustraFex effect module.
#include "Commands.h"

#include <string>
#include <vector>

int main(int argc, char **argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return lustra::cli::runLustra(arguments);
}
