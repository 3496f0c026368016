#include "app/driver.h"
#include "app/startup.h"
#include "sysutil/stop_request.h"

int main(int argc, char** argv) {
    // First of all: a stop request that comes while the program starts is counted, so the run
    // still logs it and writes its results instead of ending without a trace.
    korr::installStopHandlers();
    return velkaro::runVelkaro(velkaro::commandLineWords(argc, argv));
}
