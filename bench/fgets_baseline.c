/* The start-up baseline: a plain C program that reads its input with fgets
   and prints three lines, against which the program's whole-process time on
   a short listing is compared. */
#include <stdio.h>
#include <string.h>

int main(void)
{
    char line[512];
    long count = 0;
    while (fgets(line, 511, stdin))
        if (strstr(line, " Active "))
            count++;
    printf("green\n\n%ld users active\n", count);
    return 0;
}
