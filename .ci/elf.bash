# SPDX-License-Identifier: MIT
# Sourced by the package checks: what the binary of each Debian architecture
# must be, and what a binary is, as readelf tells: its machine, word size,
# byte order and, on ARM, float ABI.
declare -A elf=(
    [amd64]='X86-64 ELF64 little' [i386]='Intel 80386 ELF32 little'
    [armhf]='ARM ELF32 little hard-float' [armel]='ARM ELF32 little soft-float'
    [arm64]='AArch64 ELF64 little' [mips]='MIPS R3000 ELF32 big'
    [mipsel]='MIPS R3000 ELF32 little' [mips64el]='MIPS R3000 ELF64 little'
    [powerpc]='PowerPC ELF32 big' [ppc64el]='PowerPC64 ELF64 little'
    [s390x]='IBM S/390 ELF64 big' [riscv64]='RISC-V ELF64 little'
    [hppa]='HPPA ELF32 big' [m68k]='MC68000 ELF32 big')

describe() {
    readelf -h "$1" | awk -F: '
        /Machine:/ { sub(/^ +/, "", $2); sub(/Advanced Micro Devices /, "", $2); machine = $2 }
        /Class:/ { class = $2 } /Data:/ { data = $2 } /Flags:/ { flags = $2 }
        END {
            gsub(/ /, "", class); order = data ~ /big/ ? "big" : "little"
            float = flags ~ /hard-float/ ? " hard-float" : flags ~ /soft-float/ ? " soft-float" : ""
            print machine " " class " " order float }'
}
