// `Morvel --batch` with the tests' quick fetch limits: the program's own window-less entry,
// for the tests whose tiles wait out every retry or a stalled answer, which the program's
// waits would stretch to half a minute.
#include "app/CommandLine.h"
#include "tests/support/QuickFetchLimits.h"

int main(int argc, char** argv) {
    return RunWithoutWindow(argc, argv, QuickFetchLimits());
}
