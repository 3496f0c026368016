#include "app/driver.h"
#include "app/startup.h"

int main(int argc, char** argv) {
    return velkaro::runVelkaro(velkaro::commandLineWords(argc, argv));
}
