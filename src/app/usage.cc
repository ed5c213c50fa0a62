// The usage text, written once.
#include "app/usage.h"

#include "version/output.h"

namespace {

// The program is named tarvex.exe here whatever name it was started under.
constexpr char kUsageText[] =
    R"(Run app like this:

    tarvex.exe COMMAND PARAMS

where "COMMAND" choices, and corresponding "PARAMS", are:

    zolpversionlessthan VERSION
    help

and detailed descriptions of the commands and corresponding params are:

    zolpversionlessthan VERSION

        Command description:  Is ZOLP installed and, if so, is the version
                              of ZOLP less than the specified VERSION?

        VERSION param:        Version to compare installed version against.
                              The VERSION param needs to be of the form:
                                  <major>.<minor>*10+<maintenance>
                              Example of VERSION for ZOLP 5.6.0:
                                  5.60

        Return values for the command:

            0 = true:  ZOLP is installed and version is less than VERSION
            1 = false: ZOLP is not installed
            2 = false: ZOLP is installed but the version is equal to or
                       greater than VERSION
            3 = false: The VERSION parameter is missing
            4 = false: The format of the VERSION parameter is invalid

    help

        Command description:  Display this help text.

        Return value for the command:

            0 = success

Return value for tarvex.exe if an invalid command is specified:

    1 = error

Return value for tarvex.exe if no command is specified:

    0 = success (plus the help text is displayed))";

}  // namespace

void PrintUsage() { WriteMessageLine(kUsageText); }
