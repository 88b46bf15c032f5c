// lumra: the command line that drives the service. See Client.hpp.

#include "Client.hpp"
#include "Grants.hpp"

#include <iostream>

#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!arguments.empty() && arguments[0] == "grants") return Client::Grants::run(arguments, std::cout, std::cerr);
    return Client::run(arguments, Client::liveHost());
}
