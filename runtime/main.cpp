// The zel executable.
#include "runtime/process.hpp"

int main(int argc, char** argv) { return zel::runtime::main_entry(argc, argv); }
