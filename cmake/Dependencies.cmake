# Every dependency comes from a Debian package that scripts/setup installs.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(nlohmann_json 3.11 REQUIRED)
find_package(GTest 1.12 CONFIG REQUIRED)
find_package(benchmark 1.7 REQUIRED)

# Asio is header-only with no CMake or pkg-config file.
find_path(ASIO_INCLUDE_DIR NAMES asio.hpp REQUIRED)
add_library(asio_standalone INTERFACE)
target_include_directories(asio_standalone SYSTEM INTERFACE ${ASIO_INCLUDE_DIR})
target_compile_definitions(asio_standalone INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(asio_standalone INTERFACE Threads::Threads)

pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
find_package(ICU 72 REQUIRED COMPONENTS uc i18n)
# The simulated code signatures seal a bundle's files by their SHA-256.
find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)

# Log shipping posts through libcurl; its tests stand up a collector with
# cpp-httplib, found through pkg-config only on Debian.
find_package(CURL REQUIRED)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib>=0.11)
# The system log on Linux is the systemd journal.
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
# Only the logging benchmark links spdlog, as the yardstick it is measured against.
find_package(spdlog 1.10 REQUIRED)
