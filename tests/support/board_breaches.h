#pragma once
#include <functional>
#include <string>
#include <vector>

// Every emulated part of the simulated board that records rule breaches, by name: the tests and
// the fuzz targets fail on the same list.
struct BreachRecorder {
    const char* name;
    std::function<std::vector<std::string>()> violations;
};
const std::vector<BreachRecorder>& breachRecorders();
