#pragma once

#include <string_view>

// The usage text of lumra and of each of its commands, as --help and
// lumra help print it.
namespace Client::Usage {

inline constexpr std::string_view version = "lumra " LUMRA_VERSION "\n";

inline constexpr std::string_view main =
    "usage: lumra <command> [options]\n"
    "       lumra help [<command>] | --version\n"
    "\n"
    "Keeps this Mac awake through the service, for as long as a claim holds.\n"
    "\n"
    "commands:\n"
    "  status [--json]        what the service holds, and every claim\n"
    "  hold [options]         keep the Mac awake (see lumra hold --help)\n"
    "  hold [options] -- CMD  keep it awake while CMD runs\n"
    "  end [SELECTOR]         end claims: all, or those of an owner prefix, a pid or an ID\n"
    "  allow-lid [SELECTOR]   approve programs' requests to keep running with the lid closed\n"
    "  deny-lid [SELECTOR]    refuse those requests\n"
    "  suspend                hold nothing until resume; the claims are kept\n"
    "  resume                 hold the claims again\n"
    "  floor [N]              end every claim when the battery falls to N percent (0: never)\n"
    "  notify-hook [CMD...]   run CMD whenever claims end (--clear: run nothing)\n"
    "  keep-display on|off    keep the display lit while anything is held\n"
    "  update-check on|off    check daily for a newer version\n"
    "  grant                  let pmset switch sleep off and on without a password (sudo lumra grant)\n"
    "  background on|off|status\n"
    "                         run the service as the app's launch agent (lumra background --help)\n"
    "\n"
    "Run lumra help <command> for the details of one command.\n"
    "Exit status: 0 done, 1 refused by the service, 2 usage error, 3 the service did not answer.\n";

inline constexpr std::string_view status = "usage: lumra status [--json]\n"
                                           "\n"
                                           "Shows what the service holds against sleep, the machine's power state\n"
                                           "and every claim.\n"
                                           "\n"
                                           "  --json   the service's status as one line of JSON\n";

inline constexpr std::string_view hold =
    "usage: lumra hold [--modes MODES | --idle --lid --display]\n"
    "                  [--for DURATION | --until TIME | --while-pid PID]\n"
    "                  [--forced] [--owner NAME] [--on-end TEXT] [--json]\n"
    "       lumra hold [--modes MODES ...] [--forced] [--owner NAME] -- COMMAND [ARGS...]\n"
    "\n"
    "Keeps the Mac awake. Without options: idle sleep and lid-closed sleep, for you,\n"
    "until you end it; without the sudoers grant (sudo lumra grant) idle sleep alone.\n"
    "A new hold replaces the earlier one of the same owner (or pid).\n"
    "With a COMMAND: runs it, holds while it runs, ends the hold when it exits and\n"
    "exits with its status.\n"
    "\n"
    "  --modes MODES     kinds of sleep to hold off, separated by commas: idle, lid, display\n"
    "  --idle, --lid, --display\n"
    "                    the same, one kind per flag\n"
    "  --for DURATION    90 (minutes), 90m, 2h, 1h30m, 45s or 1d\n"
    "  --until TIME      14:30 (today, or tomorrow once past) or 2026-12-24T18:00[:SS][Z|+HH:MM]\n"
    "  --while-pid PID   as long as process PID runs\n"
    "  --forced          keep holding in Low Power Mode\n"
    "  --owner NAME      hold for NAME instead of you; lid then waits for your approval\n"
    "  --on-end TEXT     a text reported with the claim when it ends\n"
    "  --json            print the service's reply as one line of JSON (with the claim's ID)\n";

inline constexpr std::string_view end = "usage: lumra end [SELECTOR]\n"
                                        "\n"
                                        "Ends claims: every claim, or those whose owner begins with SELECTOR\n"
                                        "(letter case ignored) or whose pid is SELECTOR; otherwise the one claim\n"
                                        "whose ID begins with SELECTOR (at least 4 hexadecimal digits).\n";

inline constexpr std::string_view allowLid =
    "usage: lumra allow-lid [SELECTOR]\n"
    "\n"
    "Lets programs keep the Mac running with the lid closed, as they asked: every\n"
    "waiting request, or those of claims whose owner begins with SELECTOR or whose pid\n"
    "is SELECTOR.\n";

inline constexpr std::string_view denyLid =
    "usage: lumra deny-lid [SELECTOR]\n"
    "\n"
    "Refuses programs' requests to keep the Mac running with the lid closed, and takes\n"
    "back an approval: every request, or those of claims whose owner begins with\n"
    "SELECTOR or whose pid is SELECTOR. The claims keep their other kinds of sleep.\n";

inline constexpr std::string_view suspend = "usage: lumra suspend\n"
                                            "\n"
                                            "Holds nothing until lumra resume. The claims are kept; timed ones go on\n"
                                            "running out.\n";

inline constexpr std::string_view resume = "usage: lumra resume\n"
                                           "\n"
                                           "Holds the claims again after lumra suspend.\n";

inline constexpr std::string_view floor =
    "usage: lumra floor [N]\n"
    "\n"
    "Ends every claim when the battery, discharging, falls to N percent, from 0 to 50;\n"
    "0 turns the floor off. Without N: shows the floor. New installations start at 15.\n";

inline constexpr std::string_view notifyHook =
    "usage: lumra notify-hook [--] CMD...\n"
    "       lumra notify-hook --clear\n"
    "       lumra notify-hook\n"
    "\n"
    "Runs CMD (the words joined with spaces, by /bin/sh) whenever claims end, with\n"
    "LUMRA_MESSAGE and LUMRA_REASON in its environment. --clear removes the hook; no\n"
    "words shows it. Words after -- are taken as they are.\n";

inline constexpr std::string_view keepDisplay = "usage: lumra keep-display on|off\n"
                                                "\n"
                                                "Keeps the display lit as well while anything is held.\n";

inline constexpr std::string_view updateCheck = "usage: lumra update-check on|off\n"
                                                "\n"
                                                "Checks once a day whether a newer version was published.\n";

inline constexpr std::string_view grant =
    "usage: sudo lumra grant\n"
    "\n"
    "Installs the sudoers drop-in that lets you, and only you, run exactly\n"
    "'pmset -a disablesleep 0' and 'pmset -a disablesleep 1' without a password:\n"
    "the service needs it to keep the Mac running with the lid closed. It runs as\n"
    "root, through sudo, which asks for your password; the drop-in is checked\n"
    "before it replaces an earlier one.\n";

} // namespace Client::Usage
