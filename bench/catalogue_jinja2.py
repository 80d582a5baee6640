#!/usr/bin/env python3
"""The catalogue page of vek_stdtags_bench through Jinja2 with autoescape:
the same items, the same text; prints the median thread CPU time and wall
time of REPS renders (31 by default), the template compiled once.

    python3 bench/catalogue_jinja2.py [REPS]
"""
import statistics
import sys
import time

import jinja2

TEMPLATE = (
    "<!DOCTYPE html>\n<html><head><title>{{ title }}</title></head><body>\n<ul class=\"items\">\n"
    "{% for i in items %}<li id=\"item-{{ i.id }}\" data-price=\"{{ i.price }}\">"
    "<a href=\"/item/{{ i.id }}\" title=\"{{ i.name }}\">{{ i.name }}</a> "
    "<span class=\"price\">{{ i.price }}</span>{% if i.sale %} <em>sale</em>{% endif %}</li>\n"
    "{% endfor %}</ul>\n</body></html>\n"
)


def items(count):
    return [
        {"id": i, "name": f"Item {i} <{i % 7}> & co", "price": f"{i % 100}.50", "sale": i % 3 == 0}
        for i in range(count)
    ]


def main():
    reps = int(sys.argv[1]) if len(sys.argv) > 1 else 31
    env = jinja2.Environment(autoescape=True, keep_trailing_newline=True)
    template = env.from_string(TEMPLATE)
    data = {"title": "Catalogue", "items": items(10000)}
    cpu, wall, size = [], [], 0
    for _ in range(reps):
        c0, t0 = time.thread_time(), time.perf_counter()
        size = len(template.render(data).encode())
        cpu.append(time.thread_time() - c0)
        wall.append(time.perf_counter() - t0)
    print(f"jinja2 {jinja2.__version__}: cpu {statistics.median(cpu) * 1e3:.2f} ms, "
          f"wall {statistics.median(wall) * 1e3:.2f} ms, {size} bytes")


if __name__ == "__main__":
    main()
