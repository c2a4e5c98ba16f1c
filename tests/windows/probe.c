/* What a program under Wine sees of its environment, for the scripts of this
 * folder: the ANSI code page, and with a file argument that file's last-write
 * time in local time, converted as the Windows programs convert it.
 *   probe.exe [FILE]
 * prints "acp N" and, with FILE, "local YYYY-MM-DD HH:MM". */
#include <stdio.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    printf("acp %u\n", GetACP());
    if (argc < 2) return 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    SYSTEMTIME utc, local;
    if (!GetFileAttributesExW(argv[1], GetFileExInfoStandard, &data) ||
        !FileTimeToSystemTime(&data.ftLastWriteTime, &utc) || !SystemTimeToTzSpecificLocalTime(NULL, &utc, &local)) {
        fprintf(stderr, "probe: cannot read the time of %ls (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    printf("local %04u-%02u-%02u %02u:%02u\n", local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute);
    return 0;
}
