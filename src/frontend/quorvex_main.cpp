// The tool's executable: runs the command line and turns an escaping error into a message on
// standard error and exit status 1.
#include "frontend/cli.hpp"

#include <exception>
#include <iostream>

int main(int argc, char** argv) {
  try {
    return quorvex::cli::main(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << error.what() << '\n';
    return 1;
  } catch (...) {
    std::cerr << "quorvex: an unknown error ended the run\n";
    return 1;
  }
}
