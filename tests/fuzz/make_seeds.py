#!/usr/bin/env python3
"""Makes the fuzz targets' seed corpora from the end-to-end cases.

Reads tests/e2e/cases/**/*.case and writes tests/fuzz/corpus/<target>/:
  template    the templates (the case's .htm files)
  form_data   query strings and POST bodies, with the target's mode byte
  expression  the texts of SET and IF commands
  format      TRANSLATE / FORMAT command texts with a value
  substitute  template lines holding references, with options and size
  qbe         QBE command texts with the case's query string
Each file is named by a hash of its content, so running this again gives
the same files; duplicates and empty seeds are dropped, and each target
keeps at most LIMIT seeds (a fixed sample: the first by hash), so the
corpora stay small. Files named regression-* (inputs that once made a
target fail) are left as they are.
"""
import hashlib
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
CASES = ROOT / "tests" / "e2e" / "cases"
OUT = ROOT / "tests" / "fuzz" / "corpus"
LIMIT = 60
MAX_SEED = 4096


def sections(text):
    """(kind, name, content) for each '=== ' section of a case."""
    result = []
    current = None
    for line in text.splitlines(keepends=True):
        if line.startswith("=== "):
            words = line[4:].rstrip("\n").split(" ")
            noeol = words[-1] == "noeol"
            if noeol:
                words = words[:-1]
            current = [words[0], " ".join(words[1:]), [], noeol]
            result.append(current)
        elif current is not None:
            current[2].append(line)
    out = []
    for kind, name, lines, noeol in result:
        content = "".join(lines)
        if noeol and content.endswith("\n"):
            content = content[:-1]
        out.append((kind, name, content.replace("@DIR@", "/tmp").replace("@DSN@", "DSN=none")))
    return out


COMMAND = re.compile(r"<!--\s*([A-Za-z]+)\s(.*?)-->", re.S)


def main():
    seeds = {t: set() for t in ("template", "form_data", "expression", "format", "substitute", "qbe")}
    for case in sorted(CASES.rglob("*.case")):
        parts = sections(case.read_text(encoding="utf-8", errors="replace"))
        env = {}
        stdin = None
        templates = []
        for kind, name, content in parts:
            if kind == "env":
                for line in content.splitlines():
                    if "=" in line:
                        key, value = line.split("=", 1)
                        env[key] = value
            elif kind == "stdin":
                stdin = content
            elif kind == "file" and name.endswith((".htm", ".html", ".txt", ".inc")):
                templates.append(content)
        query = env.get("QUERY_STRING", "")
        if query:
            seeds["form_data"].add(b"\x00" + query.encode())
            seeds["form_data"].add(b"\x04" + query.encode())
        if stdin is not None and env.get("REQUEST_METHOD", "").upper() == "POST":
            seeds["form_data"].add(b"\x01" + stdin.encode())
            length = env.get("CONTENT_LENGTH", "")
            seeds["form_data"].add(b"\x03" + length.encode() + b"\n" + stdin.encode())
        for template in templates:
            seeds["template"].add(template.encode())
            for match in COMMAND.finditer(template):
                keyword, text = match.group(1).upper(), match.group(2).strip()
                if keyword == "SET" and "=" in text:
                    seeds["expression"].add(text.split("=", 1)[1].encode())
                elif keyword in ("IF", "ELSEIF"):
                    seeds["expression"].add(text.encode())
                elif keyword == "TRANSLATE":
                    seeds["format"].add(text.encode() + b"\n\n" + b"1")
                elif keyword == "FORMAT":
                    for value in (b"1234.5", b"-42", b"text"):
                        seeds["format"].add(b"x\n" + text.encode() + b"\n" + value)
                elif keyword == "QBE":
                    seeds["qbe"].add(query.encode() + b"\n" + text.encode())
            for line in template.splitlines():
                if "$" in line:
                    seeds["substitute"].add(b"\x04\x40" + line.encode())
                    seeds["substitute"].add(b"\x19\x08" + line.encode())
    total = 0
    for target, found in seeds.items():
        chosen = sorted((s for s in found if 0 < len(s) <= MAX_SEED), key=lambda s: hashlib.sha1(s).hexdigest())[:LIMIT]
        folder = OUT / target
        folder.mkdir(parents=True, exist_ok=True)
        # The seeds made here before go; regression seeds stay.
        for old in folder.iterdir():
            if re.fullmatch(r"[0-9a-f]{40}", old.name):
                old.unlink()
        for seed in chosen:
            (folder / hashlib.sha1(seed).hexdigest()).write_bytes(seed)
        total += len(chosen)
        print(f"{target}: {len(chosen)} seeds (of {len(found)} found)")
    print(f"total: {total}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
