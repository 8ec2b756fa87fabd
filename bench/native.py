"""The launcher built natively for Linux around a block. The packer links
Windows launchers only; until it links Linux ones too, this links the staged
POSIX launcher library the way the packer does for Windows: the block goes
into a read-only section of a small assembled object, with its length and
the identity strings beside it."""

import subprocess
from pathlib import Path

# Separators as the POSIX launcher writes them.
UNPACK_SPEC = "{CACHE_DIR}/Quenlith/{VERSION}"
MAIN_NAME = "app"


def _utf16_symbol(name, text):
    units = ", ".join(f"0x{ord(c):04x}" for c in text) + ", 0"
    return f"\t.globl\t{name}\n\t.p2align\t1\n{name}:\n\t.short\t{units}\n"


def payload_assembly(block_name, version):
    return (
        "\t.section .rodata\n"
        "\t.globl\tlauncher_attached_data\n\t.p2align\t4\nlauncher_attached_data:\n"
        f"\t.incbin\t\"{block_name}\"\n"
        "launcher_attached_end:\n"
        "\t.globl\tlauncher_attached_size\n\t.p2align\t3\nlauncher_attached_size:\n"
        "\t.quad\tlauncher_attached_end - launcher_attached_data\n"
        + _utf16_symbol("launcher_unpack_spec", UNPACK_SPEC)
        + _utf16_symbol("launcher_company", "Quen Lith")
        + _utf16_symbol("launcher_product", "Quen Lith")
        + _utf16_symbol("launcher_version", version)
        + "\t.section .note.GNU-stack,\"\",@progbits\n")


def link(stage, block, output, work, version):
    """Links a native launcher around `block` into `output`, in `work`, with
    `version` for its {VERSION} placeholder."""
    library_dir = Path(stage) / "lib" / "zembra" / "linux"
    if not (library_dir / "liblauncher.a").exists():
        raise FileNotFoundError(f"no native launcher library at {library_dir} (run scripts/build.sh)")
    work = Path(work)
    work.mkdir(parents=True, exist_ok=True)
    link_name = work / "attached.bin"
    link_name.unlink(missing_ok=True)
    link_name.symlink_to(Path(block).resolve())
    (work / "payload.s").write_text(payload_assembly("attached.bin", version))
    subprocess.run(["g++", "-c", "payload.s", "-o", "payload.o"], cwd=work, check=True)
    # Static but for the C library, as the Windows launcher is linked static
    # but for the system's own libraries.
    subprocess.run(["g++", "-pthread", "-static-libstdc++", "-static-libgcc", "-o", str(Path(output).resolve()),
                    "payload.o", f"-L{library_dir}", "-llauncher", "-l:libzstd.a", "-l:libz.a"], cwd=work, check=True)
