#!/usr/bin/env bash
# Checks the built destpick.exe as a file, without running it: that it carries no DLL of the
# compiler's runtime (the imaging environment has only Windows' own DLLs), that nothing but
# KERNEL32 and msvcrt is loaded before main, that it ships without symbols or debug sections,
# that it asks for elevation (the disks cannot be queried otherwise) and declares Windows 10 and
# 11, and that its version resource carries the version the tool logs.
#
# Why only KERNEL32 and msvcrt: the tool runs elevated from wherever it was copied to. Windows
# takes a known DLL (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs), and the
# DLLs it imports in turn, from the system only; any other DLL is looked for in the executable's
# folder first. KERNEL32 and msvcrt are known DLLs. VERSION.dll is not, so a copy beside the
# executable would be loaded. SETUPAPI (which also answers CM_Get_Device_IDW, so cfgmgr32.dll is
# never imported) and USER32 are known DLLs, but the tool does not rest on an edition's list:
# all three are delay-loaded, after main has limited the DLL search to the system folder, and
# whatever they load comes from there too.
#
# destpick-capture.exe is checked the same way: it calls no USER32 function, so it names the DLLs
# it must delay-load. destpick-explain.exe calls none of the three, and only reads a file, so it
# runs with the rights of whoever starts it (asInvoker). destpick-ts.exe delay-loads OLE32 and
# OLEAUT32 alone, for the task sequence's COM object.
#
# Usage: windows_imports_test.sh <destpick.exe> [<project version a.b.c.d> [<delay-loaded DLLs>
#        [<execution level>]]]
# The delay-loaded DLLs are one argument, separated by spaces; by default VERSION.dll SETUPAPI.dll
# USER32.dll, and none when it is empty. The execution level is requireAdministrator by default.
# OBJDUMP may name another objdump for PE files.
set -u

exe=${1:?usage: windows_imports_test.sh <exe> [<version> [<delay-loaded DLLs> [<execution level>]]]}
expected_version=${2:-}
read -r -a delay_loaded_dlls <<<"${3-VERSION.dll SETUPAPI.dll USER32.dll}"
execution_level=${4:-requireAdministrator}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
# The strings of the same binutils, or the host's.
strings=${objdump%objdump}strings
command -v "$strings" >/dev/null || strings="strings"

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"

if [ ! -f "$exe" ]; then
    fail "no file at $exe"
    finish
fi
if ! headers=$("$objdump" -p "$exe" 2>&1); then
    fail "$objdump -p could not read $exe: $headers"
    finish
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# --- Imports ----------------------------------------------------------------------------------
mapfile -t dlls < <(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
if [ "${#dlls[@]}" -eq 0 ]; then
    fail "no DLL imports listed; is $exe a PE file?"
fi

runtime_dlls=""
foreign_dlls=""
for dll in "${dlls[@]}"; do
    lower=$(printf '%s' "$dll" | tr '[:upper:]' '[:lower:]')
    case "$lower" in
        libstdc++*.dll | libgcc*.dll | libwinpthread*.dll) runtime_dlls+=" $dll" ;;
        kernel32.dll | msvcrt.dll | user32.dll | version.dll | advapi32.dll | setupapi.dll | \
            cfgmgr32.dll | ole32.dll | oleaut32.dll | api-ms-win-*.dll) ;;
        *) foreign_dlls+=" $dll" ;;
    esac
done
if [ -n "$runtime_dlls" ]; then
    fail "the compiler's runtime is imported rather than linked in (-static lost?):$runtime_dlls"
else
    pass "no libstdc++, libgcc or libwinpthread DLL among: ${dlls[*]}"
fi
if [ -n "$foreign_dlls" ]; then
    fail "imports outside the system DLLs:$foreign_dlls"
else
    pass "every import is a system DLL"
fi
loaded_before_main=$(printf '%s\n' "${dlls[@]}" | tr '[:upper:]' '[:lower:]' | sort | tr '\n' ' ')
if [ "$loaded_before_main" = "kernel32.dll msvcrt.dll " ]; then
    pass "only KERNEL32 and msvcrt are imported the ordinary way"
else
    fail "ordinary imports are $loaded_before_main; all but KERNEL32 and msvcrt must be delay-loaded"
fi

# --- Delay-loaded DLLs ------------------------------------------------------------------------
# mingw's delay-load descriptors sit in the image without a data directory entry, so objdump does
# not list them. Each is 32 bytes: the attribute 1 (the fields are RVAs), then the RVAs of the
# DLL's name, its module handle, its import address table and its name table, and three more.
# A DLL is delay-loaded when such a descriptor points at its name.
image_base=$(printf '%s\n' "$headers" | awk '$1 == "ImageBase" { print $2 }')
sections=$("$objdump" -h "$exe" | awk '$1 ~ /^[0-9]+$/ { print $3, $4, $6 }')
file_hex="$scratch/file.hex"
od -An -v -tx1 "$exe" | tr -d ' \n' >"$file_hex"

# Byte offsets in the file where the bytes given in hex occur.
offsets_of() {
    awk -v needle="$1" '{
        from = 1
        while ((at = index(substr($0, from), needle)) > 0) {
            at += from - 1
            if (at % 2 == 1) print (at - 1) / 2
            from = at + 1
        }
    }' "$file_hex"
}

# The RVA of a file offset, by the section table; fails outside every section.
rva_at() {
    local offset=$1 size vma file_offset
    while read -r size vma file_offset; do
        if [ "$offset" -ge $((0x$file_offset)) ] && [ "$offset" -lt $((0x$file_offset + 0x$size)) ]; then
            echo $((offset - 0x$file_offset + 0x$vma - 0x$image_base))
            return
        fi
    done <<<"$sections"
    return 1
}

le32_hex() {
    printf '%02x%02x%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255))
}

delay_loaded() {
    local name_hex name_offset name_rva descriptor attributes name handle iat names
    name_hex=$(printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n')00
    for name_offset in $(offsets_of "$name_hex"); do
        name_rva=$(rva_at "$name_offset") || continue
        for descriptor in $(offsets_of "$(le32_hex 1)$(le32_hex "$name_rva")"); do
            read -r attributes name handle iat names < <(od -An -tu4 -w20 -j "$descriptor" -N 20 "$exe")
            if [ "$handle" -ne 0 ] && [ "$iat" -ne 0 ] && [ "$names" -ne 0 ]; then
                return 0
            fi
        done
    done
    return 1
}

for dll in "${delay_loaded_dlls[@]}"; do
    if delay_loaded "$dll"; then
        pass "$dll is delay-loaded"
    else
        fail "no delay-load descriptor for $dll"
    fi
done

# --- Stripped ---------------------------------------------------------------------------------
debug_sections=$("$objdump" -h "$exe" | awk '$2 ~ /^\.(debug|zdebug|stab)/ { printf " %s", $2 }')
if [ -z "$debug_sections" ]; then
    pass "no debug sections"
else
    fail "debug sections shipped:$debug_sections"
fi
# The COFF header follows the "PE\0\0" signature, whose offset is at 0x3C; the symbol table's
# file offset and its count are its words at 8 and 12.
pe_offset=$(od -An -tu4 -j 60 -N 4 "$exe" | tr -d ' ')
read -r symbol_table symbol_count < <(od -An -tu4 -j $((pe_offset + 12)) -N 8 "$exe")
if [ "$symbol_table" -eq 0 ] && [ "$symbol_count" -eq 0 ]; then
    pass "no symbol table"
else
    fail "a symbol table of $symbol_count entries at offset $symbol_table"
fi

# --- Resources --------------------------------------------------------------------------------
# The resource tree as objdump prints it: type entries at three spaces, name entries at five,
# and the leaf (address as RVA, size) closing each branch. Prints "type name rva size" in hex.
resource_leaves() {
    printf '%s\n' "$headers" | awk '
        /^[0-9a-f]+   Entry: ID:/   { type = $4; sub(",", "", type) }
        /^[0-9a-f]+     Entry: ID:/ { name = $4; sub(",", "", name) }
        /Leaf: Addr:/ {
            rva = $4; sub(",", "", rva); size = $6; sub(",", "", size)
            print type, name, rva, size
        }'
}

# Copies the bytes of one resource (type, id) into a file; fails when the resource is absent.
extract_resource() {
    local want_type=$1 want_name=$2 out=$3
    local type name rva size
    while read -r type name rva size; do
        if [ $((type)) -eq "$want_type" ] && [ $((name)) -eq "$want_name" ]; then
            # The section table gives where .rsrc starts in memory and in the file.
            local section_rva section_offset image_base
            image_base=$(printf '%s\n' "$headers" | awk '$1 == "ImageBase" { print $2 }')
            read -r section_rva section_offset < <("$objdump" -h "$exe" |
                awk '$2 == ".rsrc" { print $4, $6 }')
            [ -n "$section_rva" ] || return 1
            local offset=$((rva - (0x$section_rva - 0x$image_base) + 0x$section_offset))
            dd if="$exe" of="$out" bs=1 skip="$offset" count=$((size)) status=none
            return
        fi
    done < <(resource_leaves)
    return 1
}

# RT_MANIFEST is type 24; id 1 is the manifest the loader applies to a process's own image.
manifest="$scratch/manifest.xml"
if extract_resource 24 1 "$manifest"; then
    pass "manifest resource (type 24, id 1) present"
    flat=$(tr -d '\r\n' <"$manifest")
    if printf '%s' "$flat" | grep -Eq \
        '<trustInfo xmlns="urn:schemas-microsoft-com:asm\.v3">.*<requestedExecutionLevel level="'"$execution_level"'" uiAccess="false"/>.*</trustInfo>'; then
        pass "manifest requests $execution_level inside the asm.v3 trustInfo"
    else
        fail "manifest lacks $execution_level in an asm.v3 trustInfo:"
        cat "$manifest"
    fi
    # Without it GetVersionExW reports Windows 8 on Windows 10 and 11.
    if printf '%s' "$flat" | grep -q '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>'; then
        pass "manifest declares Windows 10 and 11"
    else
        fail "manifest lacks the Windows 10 and 11 supportedOS entry"
    fi
else
    fail "no manifest resource (type 24, id 1); resources: $(resource_leaves | tr '\n' ';')"
fi

# RT_VERSION is type 16. The tool reports the fixed part (VS_FIXEDFILEINFO), which follows the
# 6-byte header and the key "VS_VERSION_INFO" (16 UTF-16 units) padded to 40 bytes.
version_block="$scratch/version.bin"
if extract_resource 16 1 "$version_block"; then
    pass "version resource (type 16, id 1) present"
    signature=$(od -An -tx4 -j40 -N4 "$version_block" | tr -d ' ')
    # Words in file order: minor, major of dwFileVersionMS, then fourth, third of dwFileVersionLS.
    read -r minor major fourth third < <(od -An -tu2 -j48 -N8 "$version_block")
    fixed_version="$major.$minor.$third.$fourth"
    read -r pminor pmajor pfourth pthird < <(od -An -tu2 -j56 -N8 "$version_block")
    product_version="$pmajor.$pminor.$pthird.$pfourth"
    if [ "$signature" != "feef04bd" ]; then
        fail "VS_FIXEDFILEINFO signature is $signature, not feef04bd"
    fi
    # The text values, each key followed by its value in the UTF-16 strings of the block.
    string_value() {
        "$strings" -a -el "$version_block" | awk -v key="$1" 'found { print; exit } $0 == key { found = 1 }'
    }
    file_version_text=$(string_value FileVersion)
    product_version_text=$(string_value ProductVersion)
    echo "     fixed file version $fixed_version, product $product_version;" \
        "FileVersion \"$file_version_text\", ProductVersion \"$product_version_text\""
    reference=${expected_version:-$fixed_version}
    if [ "$fixed_version" = "$reference" ] && [ "$product_version" = "$reference" ]; then
        pass "fixed file and product version are $reference"
    else
        fail "fixed file version $fixed_version / product $product_version, expected $reference"
    fi
    if [ "$file_version_text" = "$reference" ] && [ "$product_version_text" = "$reference" ]; then
        pass "FileVersion and ProductVersion strings are $reference"
    else
        fail "FileVersion \"$file_version_text\" / ProductVersion \"$product_version_text\", expected $reference"
    fi
else
    fail "no version resource (type 16, id 1): the tool would stop with \"Cannot get VerInfo.\""
fi

finish
