// vekpp new site DIR: a small blog to start from, using what build offers
// (layouts, Markdown posts with front matter, a paginated index, tag pages,
// a feed and a sitemap).
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <utility>
#include <vector>

#include "cli/Command.h"

namespace fs = std::filesystem;

namespace {

const std::vector<std::pair<const char*, const char*>> kStarter = {
    {"vekpp.toml", R"(# The settings of the site (docs/site.md).
title = "My blog"
base_url = "https://example.org"
layout = "page.html"
output = "public"
paginate = 5

[markdown]
unsafe = true
)"},
    {"_layouts/_head.html", R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title><#page.title#> · <#site.title#></title>
<link rel="stylesheet" href="/style.css">
<link rel="alternate" type="application/rss+xml" href="/feed.xml" title="<#site.title#>">
</head>
<body>
<nav><a href="/"><#site.title#></a> <a href="/about/">About</a> <a href="/feed.xml">Feed</a></nav>
)"},
    {"_layouts/page.html", R"(<#include file="_head.html"#>
<main>
<#block content#><#/block#>
</main>
</body>
</html>
)"},
    {"_layouts/posts.html", R"(<#include file="_head.html"#>
<main>
<article>
<h1><#page.title#></h1>
<p class="meta"><time datetime="<#page.date#>"><#page.date date="%d %B %Y"#></time>
<#each t in page.tag_links#> · <a href="<#t.url#>">#<#t.name#></a><#/each#></p>
<#block content#><#/block#>
</article>
</main>
</body>
</html>
)"},
    {"index.html", R"(---
title: Home
paginate: true
list: posts
---
<#include file="_layouts/_head.html"#>
<main>
<#each p in pager.pages#>
<article class="summary">
<h2><a href="<#p.url#>"><#p.title#></a></h2>
<p class="meta"><#p.date date="%d %B %Y"#></p>
<p><#p.summary#></p>
</article>
<#/each#>
<nav class="pager">
<#if pager.prev#><a rel="prev" href="<#pager.prev#>">Newer</a><#/if#>
<span>Page <#pager.number#> of <#pager.count#></span>
<#if pager.next#><a rel="next" href="<#pager.next#>">Older</a><#/if#>
</nav>
<p class="tags"><#each t in site.tag_list#><a href="<#t.url#>">#<#t.name#></a> (<#t.count#>) <#/each#></p>
</main>
</body>
</html>
)"},
    {"_tag.html", R"(<#include file="_layouts/_head.html"#>
<main>
<h1>Tagged #<#page.tag#></h1>
<ul>
<#each p in page.pages#>
<li><a href="<#p.url#>"><#p.title#></a> <#p.date date="%d %B %Y"#></li>
<#/each#>
</ul>
</main>
</body>
</html>
)"},
    {"about.md", R"(---
title: About
---
# About

This site is built by `vekpp build` from Markdown files with front matter.
Edit `about.md` and watch the page change under `vekpp build --watch`.
)"},
    {"posts/welcome.md", R"(---
title: Welcome
date: 2024-05-01
tags: [news]
---
The first post. Posts live in `posts/` and use `_layouts/posts.html`.

## What is here

- a paginated index (`index.html`, `paginate: true`)
- a page per tag (`_tag.html`)
- a feed (`feed.xml`) and a sitemap (`sitemap.xml`)
)"},
    {"posts/markdown.md", R"(---
title: Markdown, with extensions
date: 2024-05-02
tags: [howto, markdown]
---
Tables, ~~strikethrough~~, task lists and autolinks such as https://example.org.

| feature | here |
|---|---|
| tables | yes |

- [x] write a post
- [ ] publish it
)"},
    {"posts/front-matter.md", R"(---
title: Front matter
date: 2024-05-03
tags: [howto]
---
A post begins with YAML between `---` lines (or TOML between `+++` lines):
title, date, tags, `draft: true` to keep it out until `--drafts`.
)"},
    {"posts/draft.md", R"(---
title: Not yet
date: 2024-05-04
draft: true
---
Built only with `vekpp build --drafts`.
)"},
    {"feed.xml", R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0">
<channel>
<title><#site.title#></title>
<link><#site.base_url#>/</link>
<description><#site.title#></description>
<#each p in site.sections.posts#>
<item>
<title><#p.title#></title>
<link><#p.permalink#></link>
<guid><#p.permalink#></guid>
<pubDate><#p.date date="%a, %d %b %Y 00:00:00 +0000"#></pubDate>
<description><#p.summary#></description>
</item>
<#/each#>
</channel>
</rss>
)"},
    {"sitemap.xml", R"(<?xml version="1.0" encoding="utf-8"?>
<urlset xmlns="http://www.sitemaps.org/schemas/sitemap/0.9">
<url><loc><#site.base_url#>/</loc></url>
<#each p in site.pages#>
<url><loc><#p.permalink#></loc></url>
<#/each#>
</urlset>
)"},
    {"style.css",
     R"(body { font: 17px/1.5 system-ui, sans-serif; max-width: 42rem; margin: 2rem auto; padding: 0 1rem; }
nav a { margin-right: 1rem; }
.meta { color: #666; }
table { border-collapse: collapse; }
td, th { border: 1px solid #ccc; padding: 0.2rem 0.5rem; }
)"},
};

int RunNew(const std::string& Kind, const std::string& Dir) {
  if (Kind != "site") {
    std::cerr << "vekpp: new: only \"site\" can be made\n";
    return 2;
  }
  std::error_code ec;
  if (fs::exists(Dir, ec) && !(fs::is_directory(Dir, ec) && fs::is_empty(Dir, ec))) {
    std::cerr << "vekpp: new: " << Dir << " exists and is not an empty folder\n";
    return 2;
  }
  for (const auto& f : kStarter) {
    const fs::path path = fs::path(Dir) / f.first;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary);
    out << f.second;
    if (!out.flush()) {
      std::cerr << "vekpp: new: cannot write " << path.string() << "\n";
      return 2;
    }
  }
  std::cout << "A site in " << Dir << ". Build it with: vekpp build " << Dir << " (into "
            << (fs::path(Dir) / "public").string() << ")\n";
  return 0;
}

}  // namespace

CLI::App* AddNewCommand(CLI::App& App, TCommandRun& Run) {
  auto args = std::make_shared<std::pair<std::string, std::string>>();
  CLI::App* command =
      App.add_subcommand("new", "Write a starter site into DIR (vekpp new site DIR)");
  command->add_option("kind", args->first, "What to make: site")->required();
  command->add_option("dir", args->second, "An empty or new folder")->required();
  Run = [args] { return RunNew(args->first, args->second); };
  return command;
}
