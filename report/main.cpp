#include <iostream>

#include "report/command_line.h"
#include "report/report_program.h"

int main(int argc, char** argv) {
    return velkaro::report::runReport(velkaro::report::commandLineWords(argc, argv), std::cout,
                                      std::cerr);
}
