/* A stand-in for notepad.exe or wgnuplot.exe in the Windows check: appends
   the command line it was started with to comandos.log and ends; as
   wgnuplot it also leaves a whole, empty picture for every "set output '...'"
   of its script, as a plotting program that works does. Built as cmd.exe it
   leaves a file behind instead, to show it was run. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static void draw_outputs(const char* script)
{
    static const char png[] = "\x89PNG\r\n\x1a\n\0\0\0\0IEND\xae\x42\x60\x82";
    static const char gif[] = "GIF89a\1\0\1\0\0\0\0;";
    static const char mark[] = "set output '";
    char line[4096];
    FILE* in = fopen(script, "rb");
    if (in == NULL) return;
    while (fgets(line, sizeof line, in) != NULL) {
        char* name = strstr(line, mark);
        char* end;
        FILE* out;
        if (name == NULL) continue;
        name += sizeof mark - 1;
        end = strchr(name, '\'');
        if (end == NULL) continue;
        *end = '\0';
        out = fopen(name, "wb");
        if (out == NULL) continue;
        if (end - name > 4 && strcmp(end - 4, ".gif") == 0)
            fwrite(gif, 1, sizeof gif - 1, out);
        else
            fwrite(png, 1, sizeof png - 1, out);
        fclose(out);
    }
    fclose(in);
}

int main(int argc, char** argv)
{
#ifdef PLANTED
    FILE* file = fopen("cmd-plantado-executado.txt", "wb");
#else
    FILE* file = fopen("comandos.log", "ab");
#endif
    if (file == NULL) return 1;
    fprintf(file, "%s\n", GetCommandLineA());
    fclose(file);
    if (argc >= 2 && strstr(argv[0], "wgnuplot") != NULL) draw_outputs(argv[1]);
    return 0;
}
