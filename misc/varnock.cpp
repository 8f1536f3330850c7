// varnock: turns a trading terminal's exported trade tables into clean
// trade records and HTML profit reports.

#include "keltools.h"

int main()
{
    warning1("success\n");
    return 0;
}
