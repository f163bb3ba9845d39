#!/usr/bin/env python3
"""Writes the starting corpus of every fuzz target into OUT/<target>/, from
the tests' own data (INI files, the test service's catalogue answers, the
test packages) plus a few small archives and texts made here."""
import io
import pathlib
import sys
import zipfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
DATA = ROOT / "tests" / "data"


def catalogue_answers():
    """The answer bodies of the test service's catalogue ("key => body")."""
    answers = []
    for path in DATA.rglob("service.ini"):
        for line in path.read_bytes().split(b"\n"):
            if b" => " in line:
                answers.append(line.split(b" => ", 1)[1].replace(b"\\r\\n", b"\r\n"))
    return answers


def made_archives():
    def archive(entries, method=zipfile.ZIP_DEFLATED):
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", method) as z:
            for name, body in entries:
                z.writestr(name, body)
        return buffer.getvalue()

    return [
        archive([("a.txt", b"hello\n")]),
        archive([("a.txt", b"hello\n"), ("sub/b.bin", bytes(range(256)))], zipfile.ZIP_STORED),
        archive([("dir/", b""), ("dir/x/y.txt", b"x" * 300)]),
        archive([("../up.txt", b"up")]),
        archive([("/abs.txt", b"abs")]),
        archive([("sub\\win.txt", b"win")]),
        archive([]),
    ]


def main():
    out = pathlib.Path(sys.argv[1])
    corpus = {
        "inifile": [p.read_bytes() for p in DATA.rglob("*.ini")]
        + [b"[a]\r\nk=v\r\n\r\n[B]\nx\n=y\n", b"top=1\n[s]\nk=a=b\n"],
        "answers": catalogue_answers()
        + [b"2024-05-17 10:11:12.", b"2024-05-17_101112", b"3.70", b"1.00\r\n1.10\r\n\r\n",
           b"NOT FOUND", b"varno;1;auto;Automobili;;varno;2;moto;Motocicli;moto_files"],
        "downloads": [b"database_auto|database_truck\n" + a for a in catalogue_answers()]
        + [(p.read_bytes()) for p in (DATA / "plan" / "expected").glob("downloads_*.txt")],
        "marker": [b"MZ\x90\x00EXEC_VERSION=3.70\x00\x00", b"\x01EEXEC_VERSION=1.2", b"EXEC_VERSION=EXEC_VERSION=9.99"],
        "communications": [
            b"<html><head><title>Nuovo &amp; &quot;aggiornato&quot; &#39;24</title>",
            b"<title><b>Listino</b> prezzi</title>\r\n<body>",
            b"<title>Novit\xc3\xa0 caff\xc3\xa8</title>",
            b"2024-05-17-x.htm\n<title>Avviso\nimportante</title>",
        ],
        "unzip": [p.read_bytes() for p in DATA.rglob("*.zip")] + made_archives(),
    }
    for target, seeds in corpus.items():
        folder = out / target
        folder.mkdir(parents=True, exist_ok=True)
        for number, seed in enumerate(seeds):
            (folder / f"seed{number:03d}").write_bytes(seed)


if __name__ == "__main__":
    main()
