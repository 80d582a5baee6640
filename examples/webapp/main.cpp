// A small web application on the engine: a catalogue in SQLite with search
// and paging, item pages, and a review form guarded by a CSRF token, served
// by cpp-httplib on loopback; every page rendered per request by one
// TVekEngine shared by the server's threads, with an application modifier
// (price) and application tags (stars, csrf_field).
//
//   vek_webapp [--port N] [--db FILE] [--templates DIR]
//
// Prints "http://127.0.0.1:PORT/" on stderr once it listens (--port 0: a
// free port).
#include <httplib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "VekEngine.h"  // <vek/VekEngine.h> when installed

#include "Catalogue.h"
#include "Sessions.h"

namespace {

const int kPerPage = 20;
const size_t kMaxQuery = 100, kMaxReview = 500;

// The session id of the request's cookie "sid", or "".
std::string SessionOf(const httplib::Request& Req) {
  const std::string cookies = Req.get_header_value("Cookie");
  size_t at = 0;
  while (at < cookies.size()) {
    size_t end = cookies.find(';', at);
    if (end == std::string::npos) end = cookies.size();
    std::string part = cookies.substr(at, end - at);
    const size_t first = part.find_first_not_of(' ');
    part = first == std::string::npos ? "" : part.substr(first);
    if (part.rfind("sid=", 0) == 0) return part.substr(4);
    at = end + 1;
  }
  return "";
}

// A whole number of at most 9 digits, or Fallback.
long long Number(const std::string& Text, long long Fallback) {
  if (Text.empty() || Text.size() > 9 || Text.find_first_not_of("0123456789") != std::string::npos)
    return Fallback;
  return std::stoll(Text);
}

// The application's additions to the template language.
void Extend(TVekEngine& Engine) {
  // <#cents price#>: 1234 -> "12.34 €".
  Engine.AddModifier("price", [](const TVekData& V, const std::vector<std::string>&) {
    if (!V.is_number_integer()) return V;
    const long long c = V.get<long long>();
    char text[64];
    std::snprintf(text, sizeof text, "%lld.%02lld \u20ac", c / 100, c % 100);
    return TVekData(text);
  });
  // <#stars of="item.rating"#>: the rating as five stars, trusted HTML.
  Engine.AddTag("stars", [](const TVekTagCall& Call) {
    const TVekData* v = Call.Value(Call.Param("of"));
    const long long n = v && v->is_number_integer() ? v->get<long long>() : 0;
    std::string stars;
    for (long long i = 0; i < 5; ++i) stars += i < n ? "\u2605" : "\u2606";
    return TVekTagAnswer{
        "<span class=\"stars\" title=\"" + std::to_string(n) + " of 5\">" + stars + "</span>",
        true};
  });
  // <#csrf_field#>: the hidden field that carries the session's token.
  Engine.AddTag("csrf_field", [](const TVekTagCall& Call) {
    const TVekData* token = Call.Value("session.csrf");
    std::string hex = token && token->is_string() ? token->get<std::string>() : "";
    if (hex.find_first_not_of("0123456789abcdef") != std::string::npos) hex.clear();
    return TVekTagAnswer{"<input type=\"hidden\" name=\"csrf\" value=\"" + hex + "\">", true};
  });
}

}  // namespace

int main(int argc, char** argv) {
  int port = 8080;
  std::string db = "webapp.sqlite", templates = VEK_WEBAPP_TEMPLATES;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--port")) {
      port = std::atoi(argv[i + 1]);
    } else if (!std::strcmp(argv[i], "--db")) {
      db = argv[i + 1];
    } else if (!std::strcmp(argv[i], "--templates")) {
      templates = argv[i + 1];
    } else {
      std::fprintf(stderr, "usage: vek_webapp [--port N] [--db FILE] [--templates DIR]\n");
      return 2;
    }
  }
  try {
    TCatalogue catalogue(db, 240);
    TSessions sessions;
    TVekEngine engine{TVekTemplateRoot(templates)};
    Extend(engine);

    httplib::Server server;
    server.set_payload_max_length(8192);
    // A page with the visitor's session (made if need be) in its data.
    auto page = [&](const httplib::Request& Req, httplib::Response& Res, const char* Name,
                    TVekData Data) {
      std::string sid = SessionOf(Req);
      const std::string old = sid;
      Data["session"] = {{"csrf", sessions.Token(sid)}};
      if (sid != old)
        Res.set_header("Set-Cookie", "sid=" + sid + "; Path=/; HttpOnly; SameSite=Strict");
      Res.set_content(engine.Render(Name, Data), "text/html; charset=utf-8");
    };
    auto error = [&](const httplib::Request& Req, httplib::Response& Res, int Status,
                     const std::string& Message) {
      page(Req, Res, "error.html", {{"status", std::to_string(Status)}, {"message", Message}});
      Res.status = Status;
    };

    server.Get("/", [&](const httplib::Request& Req, httplib::Response& Res) {
      std::string q = Req.get_param_value("q");
      if (q.size() > kMaxQuery) q.resize(kMaxQuery);
      long long total = 0;
      long long number = Number(Req.get_param_value("page"), 1);
      catalogue.Search(q, 0, 0, total);
      const long long pages = total == 0 ? 1 : (total + kPerPage - 1) / kPerPage;
      if (number < 1 || number > pages) number = 1;
      TVekData items = catalogue.Search(q, (number - 1) * kPerPage, kPerPage, total);
      page(Req, Res, "index.html",
           {{"q", q},
            {"total", total},
            {"items", std::move(items)},
            {"paging",
             {{"page", number},
              {"pages", pages},
              {"prev", number - 1},
              {"next", number < pages ? number + 1 : 0}}}});
    });
    server.Get(R"(/item/(\d{1,9}))", [&](const httplib::Request& Req, httplib::Response& Res) {
      const long long id = Number(Req.matches[1], 0);
      TVekData item = catalogue.Item(id);
      if (item.is_null()) return error(Req, Res, 404, "There is no such item.");
      page(Req, Res, "item.html", {{"item", std::move(item)}, {"reviews", catalogue.Reviews(id)}});
    });
    server.Post(R"(/item/(\d{1,9})/review)",
                [&](const httplib::Request& Req, httplib::Response& Res) {
                  const long long id = Number(Req.matches[1], 0);
                  if (!sessions.Holds(SessionOf(Req), Req.get_param_value("csrf")))
                    return error(Req, Res, 403, "The form's token is missing or stale.");
                  const std::string text = Req.get_param_value("text");
                  if (text.empty() || text.size() > kMaxReview)
                    return error(Req, Res, 400, "A review holds 1 to 500 bytes.");
                  if (!catalogue.AddReview(id, text))
                    return error(Req, Res, 404, "There is no such item.");
                  Res.set_redirect("/item/" + std::to_string(id), 303);
                });
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& Res, std::exception_ptr E) {
          std::string what = "unknown";
          try {
            std::rethrow_exception(E);
          } catch (const std::exception& e) {
            what = e.what();
          }
          std::fprintf(stderr, "vek_webapp: %s\n", what.c_str());
          Res.status = 500;
          Res.set_content("internal error\n", "text/plain");
        });

    if (port == 0) {
      port = server.bind_to_any_port("127.0.0.1");
    } else if (!server.bind_to_port("127.0.0.1", port)) {
      port = -1;
    }
    if (port < 0) {
      std::fprintf(stderr, "vek_webapp: cannot listen on 127.0.0.1\n");
      return 1;
    }
    std::fprintf(stderr, "vek_webapp: http://127.0.0.1:%d/\n", port);
    return server.listen_after_bind() ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vek_webapp: %s\n", e.what());
    return 1;
  }
}
