#!/usr/bin/env python3
"""Writes a feed document of a given size for the feed benchmark: schema,
[download], [stop], then news and update items with English and Russian
texts, then a comment line that fills it to exactly that size."""
import sys


def item(n):
    kind = "update" if n % 5 == 0 else "news"
    lines = [
        "[[item]]",
        f"id = {n}",
        f'type = "{kind}"',
        f"date = 2026-{1 + n % 12:02d}-{1 + n % 28:02d}",
    ]
    if kind == "update":
        lines.append(f'version = "2.{n // 5}.0"')
    lines += [
        f'link = "https://localhost/tamsel/news/{n}.html"',
        "[item.en]",
        f'title = "Tamsel news number {n}"',
        'text = "' + "The update brings faster start-up, fixes and new translations. " * 2 + '"',
        "[item.ru]",
        f'title = "Новости Tamsel номер {n}"',
        'text = "' + "Обновление ускоряет запуск, исправляет ошибки и добавляет переводы. " * 2 + '"',
        "",
    ]
    return "\n".join(lines) + "\n"


def main():
    out, size = sys.argv[1], int(sys.argv[2])
    text = (
        "schema = 1\n\n"
        "[download]\n"
        'version = "2.0.0"\n'
        'url = "https://localhost/tamsel/files/tamsel-setup-2.0.0.exe"\n'
        'sha256 = "' + "ab" * 32 + '"\n'
        "size = 12345678\n\n"
        "[stop]\n"
        'versions = ["1.9.0", "1.9.1"]\n'
        "revoke_working = false\n\n"
    )
    n = 1
    while len((text + item(n)).encode()) <= size:
        text += item(n)
        n += 1
    room = size - len(text.encode())
    if room >= 3:  # fill to the exact size with a comment line
        text += "#" + "x" * (room - 2) + "\n"
    with open(out, "wb") as f:
        f.write(text.encode())


if __name__ == "__main__":
    main()
