// tarvex: the command-line tool for people at a bench with a Tarvex board (or without one:
// --demo runs every command against the emulated demo board).
#include "tool.h"

int main(int argc, char** argv) {
    tarvex::cli::Tool tool;
    return tool.run(argc, argv);
}
