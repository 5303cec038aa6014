/* A stand-in for notepad.exe or wgnuplot.exe in the Windows check: appends
   the command line it was started with to comandos.log and ends. Built as
   cmd.exe it leaves a file behind instead, to show it was run. */
#include <stdio.h>
#include <windows.h>

int main(void)
{
#ifdef PLANTED
    FILE* file = fopen("cmd-plantado-executado.txt", "wb");
#else
    FILE* file = fopen("comandos.log", "ab");
#endif
    if (file == NULL) return 1;
    fprintf(file, "%s\n", GetCommandLineA());
    fclose(file);
    return 0;
}
