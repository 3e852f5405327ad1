/* A real program of the machine the tests are built for: the application checks install it,
   cut it short and change its machine. It is never run. */
#include <stdio.h>

int main(void)
{
    puts("sample program");
    return 0;
}
