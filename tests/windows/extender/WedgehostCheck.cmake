# Runs Wedgehost.exe once under the emulator and checks its exit status and what it printed on
# each stream. -DEMULATOR=... -DPROGRAM=... -DCASE=swipe|swipe_russian|bad_prefix|timeout|help
# The program prints UTF-8, as this file is written.

set(card_line "^{\"source\":\"[0-9A-F]+-[0-9A-F]+-[0-9A-F]+-[0-9A-F]+-[0-9A-F]+\",\"message\":\"ЧтениеКодаМагнитнойКарты\",\"data\":\"@1;12345=67890\\?@2Track2@3Track3\"}\r?\n$")

if(CASE STREQUAL "swipe")
    set(arguments --swipe --events 1 --timeout 30)
    set(expected_status 0)
    set(expected_stdout "${card_line}")
    set(expected_stderr "driver: device [0-9A-F-]+ open")
elseif(CASE STREQUAL "swipe_russian")
    set(arguments --russian --swipe --events 1 --timeout 30)
    set(expected_status 0)
    set(expected_stdout "${card_line}")
    set(expected_stderr "driver: device closed: true")
elseif(CASE STREQUAL "bad_prefix")
    set(arguments --prefix1 "#9#" --events 1 --timeout 30)
    set(expected_status 2)
    set(expected_stdout "^$")
    set(expected_stderr "\\(6\\) ПрефиксДрайвера1: Неверный формат строки данных")
elseif(CASE STREQUAL "timeout")
    # No card comes: the run ends at its time limit, with the device closed.
    set(arguments --events 1 --timeout 2)
    set(expected_status 3)
    set(expected_stdout "^$")
    set(expected_stderr "driver: timed out\r?\ndriver: device closed: true")
elseif(CASE STREQUAL "help")
    set(arguments --help)
    set(expected_status 0)
    set(expected_stdout "^Usage: Wedgehost .*--swipe")
    set(expected_stderr "^$")
else()
    message(FATAL_ERROR "unknown case '${CASE}'")
endif()

execute_process(
    COMMAND ${EMULATOR} ${PROGRAM} ${arguments}
    RESULT_VARIABLE status
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    TIMEOUT 75)

message("exit status: ${status}\n--- standard output:\n${out}--- standard error:\n${err}---")
if(NOT status STREQUAL expected_status)
    message(FATAL_ERROR "expected exit status ${expected_status}")
endif()
if(NOT out MATCHES "${expected_stdout}")
    message(FATAL_ERROR "standard output does not match: ${expected_stdout}")
endif()
if(NOT err MATCHES "${expected_stderr}")
    message(FATAL_ERROR "standard error does not match: ${expected_stderr}")
endif()
