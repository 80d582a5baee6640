// The catalogue page of vek_stdtags_bench through Go's html/template (the
// standard library's contextual escaping): the same items, the same text.
// Prints the median process CPU time (the garbage collector runs on other
// threads), the median CPU time of the rendering thread, and the median wall
// time of REPS renders (31 by default), the template parsed once and the
// output buffer reused.
//
//	go run bench/catalogue_go.go [REPS]
package main

import (
	"bytes"
	"fmt"
	"html/template"
	"os"
	"runtime"
	"sort"
	"strconv"
	"syscall"
	"time"
)

const page = "<!DOCTYPE html>\n<html><head><title>{{.Title}}</title></head><body>\n<ul class=\"items\">\n" +
	"{{range .Items}}<li id=\"item-{{.ID}}\" data-price=\"{{.Price}}\">" +
	"<a href=\"/item/{{.ID}}\" title=\"{{.Name}}\">{{.Name}}</a> " +
	"<span class=\"price\">{{.Price}}</span>{{if .Sale}} <em>sale</em>{{end}}</li>\n" +
	"{{end}}</ul>\n</body></html>\n"

type item struct {
	ID    int
	Name  string
	Price string
	Sale  bool
}

const rusageThread = 1 // RUSAGE_THREAD

func cpu(who int) time.Duration {
	var ru syscall.Rusage
	if err := syscall.Getrusage(who, &ru); err != nil {
		panic(err)
	}
	return time.Duration(ru.Utime.Nano() + ru.Stime.Nano())
}

func median(d []time.Duration) float64 {
	sort.Slice(d, func(i, j int) bool { return d[i] < d[j] })
	return float64(d[len(d)/2]) / 1e6
}

func main() {
	runtime.LockOSThread() // the thread's CPU time is this goroutine's
	reps := 31
	if len(os.Args) > 1 {
		n, err := strconv.Atoi(os.Args[1])
		if err != nil || n < 1 {
			fmt.Fprintln(os.Stderr, "usage: catalogue_go [REPS]")
			os.Exit(2)
		}
		reps = n
	}
	t := template.Must(template.New("catalogue").Parse(page))
	data := struct {
		Title string
		Items []item
	}{Title: "Catalogue"}
	for i := 0; i < 10000; i++ {
		data.Items = append(data.Items, item{i, fmt.Sprintf("Item %d <%d> & co", i, i%7),
			fmt.Sprintf("%d.50", i%100), i%3 == 0})
	}
	var out bytes.Buffer
	var proc, thread, wall []time.Duration
	for r := 0; r < reps; r++ {
		out.Reset()
		p0, c0, t0 := cpu(syscall.RUSAGE_SELF), cpu(rusageThread), time.Now()
		if err := t.Execute(&out, data); err != nil {
			panic(err)
		}
		wall = append(wall, time.Since(t0))
		thread = append(thread, cpu(rusageThread)-c0)
		proc = append(proc, cpu(syscall.RUSAGE_SELF)-p0)
	}
	fmt.Printf("go %s html/template: cpu %.2f ms (thread %.2f ms), wall %.2f ms, %d bytes\n",
		runtime.Version(), median(proc), median(thread), median(wall), out.Len())
}
