#include "driver/driver.h"

int main(int argc, char** argv) { return varnic::run(argc, argv); }
