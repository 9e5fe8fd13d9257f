#include "selection/run_driver.h"

int main() {
    return RunDestinationPick();
}
