#pragma once

// The whole module: styling, width and layout.
#include <Terminal/ANSI.hpp>
#include <Terminal/Layout.hpp>
#include <Terminal/Text.hpp>
