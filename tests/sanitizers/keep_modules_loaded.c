/* Linked into the executables of the ASan build only. Qt unloads its plugins
 * (platform, image formats, QML modules) before the leak check runs at exit,
 * and a leak inside an unloaded module can then be neither named nor matched
 * by a suppression. Never unloading keeps every module known to the report. */
int dlclose(void* handle)
{
    (void)handle;
    return 0;
}
