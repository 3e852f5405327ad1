/* Plain C code of the machine the tests are built for, linked in the forms that are no program of
   the box: a shared library, a static program, a library linked as a program. It is never run. */
#include <stdio.h>

int sample_value(int x)
{
    return x * 3 + 1;
}

int main(void)
{
    printf("sample %d\n", sample_value(1));
    return 0;
}
