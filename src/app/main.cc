#include "app/startup.h"

int main(int argc, char** argv) { return Pzl_Main(argc, argv); }
