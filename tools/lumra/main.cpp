// lumra: the command line that drives the service. See Client.hpp.

#include "AppCommand.hpp"
#include "Client.hpp"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "app")
        return Client::AppCommand::run(std::vector<std::string>(argv + 2, argv + argc), std::cout, std::cerr);
    return Client::run(std::vector<std::string>(argv + 1, argv + argc), Client::liveHost());
}
