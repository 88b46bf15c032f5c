// lumra: the command line that drives the service. See Client.hpp.

#include "Client.hpp"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    return Client::run(std::vector<std::string>(argv + 1, argv + argc), Client::liveHost());
}
