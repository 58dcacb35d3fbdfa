// The run's connection to the world outside: where its request's
// environment, input and answer are. A CGI or command-line run uses the
// process's own environment, standard input and standard output; a run
// served by a persistent worker gets the request's parameters and streams.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace vexil {

struct RunIo {
    // The request's parameters ("NAME=VALUE", ended by nullptr); nullptr:
    // the process's environment is the request's.
    const char* const* params = nullptr;
    std::FILE* input = nullptr;   // the request body; nullptr: standard input
    std::FILE* output = nullptr;  // the answer; nullptr: standard output
    // Served by a persistent worker: a command started by EXEC writes into
    // a pipe whose bytes are copied into the answer.
    bool persistent = false;
};

RunIo& run_io();

// The value of a variable of the request's environment, or nullptr. With
// request parameters, a name they do not carry is looked up in the
// process's environment only when it is a setting of the site (VEXIL_*),
// never a variable of the request itself.
const char* run_env(const char* name);

// The request body's stream.
std::FILE* run_input();

// The environment a command started by the run gets: the process's own,
// with the request's parameters replacing or adding variables.
std::vector<std::string> run_child_environment();

}  // namespace vexil
