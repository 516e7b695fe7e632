# Turns the platform/ headers into one C++ unit that checks their declarations
# against the real Windows headers, which scripts/check-platform-headers.sh
# includes first. The headers are clang-formatted, so one pattern per kind of
# declaration finds them all:
#   #define NAME value          the value compared with the real NAME
#   #define NAME(a, b) body     ours, renamed, and the real one on the same
#                               arguments (distinct ones, to catch a swap)
#   NAME(...);                  existence, then redeclared with C linkage
#   typedef struct ... { } N;   every member's offset and type, the size
#   typedef ... N;              the same type as the real N
# platform/wintypes.h holds our own spelling of the basic types (WCHAR is
# char16_t here, wchar_t there): those compare by size and signedness.

BEGIN {
    # Where Windows CE declares a name otherwise than the desktop does,
    # platform/ follows CE and only what both share is compared.
    # LocalAlloc: CE counts the bytes in a UINT, the desktop in a SIZE_T (both
    # 32 bits); the function must exist but is not redeclared.
    ce_signature["LocalAlloc"] = 1
    # OPENFILENAMEW: CE's record ends where the desktop's pvReserved, dwReserved
    # and FlagsEx begin.
    ce_record_end["OPENFILENAMEW"] = "pvReserved"
}

function check(text) { checks = checks text "\n" }
function define(text,    name, value) {
    gsub(/  +/, " ", text)
    name = text
    sub(/^#define /, "", name); sub(/[ (].*/, "", name)
    if (text ~ /^#define [A-Za-z0-9_]+\(/) {
        function_macro(text, name)
        return
    }
    value = text
    sub(/^#define [A-Za-z0-9_]+ */, "", value)
    if (value == "") return
    if (value ~ /^[uL]?"/)
        check("static_assert(SameText(" value ", " name "), " where() name "\");")
    else if (value ~ /HKEY|HANDLE|RESOURCE|LP[C]?WSTR/)
        check("static_assert(std::is_pointer_v<decltype(" name ")> && std::is_pointer_v<decltype(" value \
              ")>, " where() name " is a pointer\");")
    else
        check("static_assert((" value ") == (" name "), " where() name "\");")
}
function function_macro(text, name,    parameters, value, count, arguments, call) {
    parameters = text
    sub(/^#define [A-Za-z0-9_]+\(/, "", parameters); sub(/\).*/, "", parameters)
    value = text
    sub(/^#define [A-Za-z0-9_]+\([^)]*\) */, "", value)
    # Handle declarations (DECLARE_HANDLE) compare by the handles they make.
    if (value ~ /struct/) return
    count = split(parameters, arguments, /, */)
    call = count == 1 ? "0x87654321" : count == 2 ? "0x12, 0x34" : count == 4 ? "0x22, 0x801, 2, 3" : ""
    if (call == "") {
        print FILENAME ": no arguments for " name > "/dev/stderr"; failed = 1; exit 1
    }
    check("#define OURS_" name "(" parameters ") " value)
    if (value ~ /##/)
        check("static_assert(SameText(OURS_" name "(\"ab\"), " name "(\"ab\")), " where() name "\");")
    else if (value ~ /LP[C]?WSTR/)
        check("static_assert(std::is_pointer_v<decltype(OURS_" name "(5))> && std::is_pointer_v<decltype(" name \
              "(5))>, " where() name " makes a pointer\");")
    else
        check("static_assert(OURS_" name "(" call ") == " name "(" call "), " where() name "\");")
}
function where() { return "\"" FILENAME ": " }
function last_name(text,    count, parts) {
    sub(/ *\/\/[^\n]*/, "", text)
    sub(/\[.*\]/, "", text)
    sub(/[ ;\n]*$/, "", text)
    count = split(text, parts, /[^A-Za-z0-9_]+/)
    return parts[count]
}

FNR == 1 {
    in_define = 0; in_assert = 0; in_struct = 0; statement = ""; definition = ""
    basic = FILENAME ~ /wintypes\.h$/
}
in_assert { in_assert = !/;/; next }
/^#define/ || in_define {
    line = $0
    in_define = sub(/ *\\$/, "", line)
    definition = definition (definition == "" ? "" : " ") line
    if (!in_define) {
        define(definition)
        definition = ""
    }
    next
}
/^#pragma pack/ { structs = structs $0 "\n"; next }
/^#/ { next }
/^static_assert/ { in_assert = !/;/; next }
/^\/\// || /^$/ { next }

# Structures: members by offset and type.
/^typedef struct.*\{/ { in_struct = 1; body = $0 "\n"; members = ""; next }
in_struct && /^\}/ {
    in_struct = 0
    body = body $0 "\n"
    names = $0
    sub(/^\} */, "", names); sub(/;.*/, "", names)
    count = split(names, list, / *, */)
    type = list[1]
    if (basic) { print "platform/wintypes.h: structures not expected" > "/dev/stderr"; failed = 1; exit 1 }
    structs = structs body
    real_size = type in ce_record_end ? "offsetof(::" type ", " ce_record_end[type] ")" : "sizeof(::" type ")"
    check("static_assert(sizeof(ours::" type ") == " real_size ", " where() "size of " type "\");")
    members_count = split(members, member, " ")
    for (m = 1; m <= members_count; m++) {
        check("static_assert(offsetof(ours::" type ", " member[m] ") == offsetof(::" type ", " member[m] \
              ") && std::is_same_v<decltype(ours::" type "::" member[m] "), decltype(::" type "::" member[m] \
              ")>, " where() type "::" member[m] "\");")
    }
    for (i = 2; i <= count; i++) {
        pointer = list[i]; sub(/^\*/, "", pointer)
        check("static_assert(std::is_same_v<::" pointer ", ::" type "*>, " where() pointer "\");")
    }
    next
}
in_struct { body = body $0 "\n"; if ($0 ~ /;/) members = members " " last_name($0); next }

# A statement at the left margin: a typedef, a handle or a function.
/^[A-Za-z_]/ { statement = "" }
{ statement = statement $0 "\n" }
!/;/ { next }
statement ~ /^typedef struct [A-Za-z_]+ [A-Za-z_]+, \*[A-Za-z_]+;/ {
    split(statement, words, /[ ,;*]+/)
    check("static_assert(std::is_same_v<::" words[5] ", ::" words[4] "*>, " where() words[5] "\");")
    next
}
statement ~ /^typedef/ || statement ~ /^DECLARE_HANDLE/ {
    if (statement ~ /^DECLARE_HANDLE/) {
        name = statement; sub(/^DECLARE_HANDLE\(/, "", name); sub(/\).*/, "", name)
    } else if (statement ~ /\(/) {
        name = statement; sub(/^[^*]*\* */, "", name); sub(/\).*/, "", name)
    } else {
        name = last_name(statement)
    }
    if (basic) {
        basics = basics statement
        check("static_assert(SameShape<ours_basic::" name ", ::" name ">(), " where() name "\");")
    } else {
        typedefs = typedefs statement
        check("static_assert(std::is_same_v<ours_typedefs::" name ", ::" name ">, " where() name "\");")
    }
    next
}
statement ~ /\(/ {
    name = statement; sub(/\(.*/, "", name); name = last_name(name)
    exists = exists "using ::" name ";\n"
    if (!(name in ce_signature)) functions = functions statement
    next
}
{ print FILENAME ": not understood: " statement > "/dev/stderr"; failed = 1; exit 1 }

END {
    if (failed) exit 1
    print "// Generated by scripts/platform-check/declarations.awk from platform/*.h."
    print "#include <stddef.h>"
    print "#include <stdint.h>"
    print "#include <type_traits>"
    print ""
    print "#include \"compare.h\""
    print ""
    print "// Every function platform/ declares exists, and has the same type."
    print "namespace exists {"
    printf "%s", exists
    print "}"
    print "extern \"C\" {"
    printf "%s", functions
    print "}"
    print ""
    print "namespace ours {"
    printf "%s", structs
    print "}"
    print "namespace ours_typedefs {"
    printf "%s", typedefs
    print "}"
    print "namespace ours_basic {"
    printf "%s", basics
    print "}"
    print ""
    printf "%s", checks
}
