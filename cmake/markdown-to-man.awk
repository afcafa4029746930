# Turns the tool's Markdown page into a man page, so the two never differ.
# Knows the Markdown the page uses: headings, paragraphs, fenced code blocks,
# pipe tables and `code` spans. The title heading is dropped; the first code
# block is the synopsis.
#
#   awk -v name=tarnwick -v summary="..." -v version=1.0.0 -f markdown-to-man.awk page.md
function roff(text,    out) {
    gsub(/\\/, "\\e", text)
    gsub(/-/, "\\-", text)
    out = ""
    # Code spans in bold, the rest roman.
    while (match(text, /`[^`]*`/)) {
        out = out substr(text, 1, RSTART - 1) "\\fB" substr(text, RSTART + 1, RLENGTH - 2) "\\fR"
        text = substr(text, RSTART + RLENGTH)
    }
    return out text
}
# A line that roff would read as a request or that starts with a space.
function line(text) {
    if (text ~ /^[.']/) text = "\\&" text
    print text
}
function cell(text) {
    sub(/^ +/, "", text)
    sub(/ +$/, "", text)
    return text
}
BEGIN {
    print ".TH " toupper(name) " 1 \"\" \"" name " " version "\" \"User Commands\""
    print ".SH NAME"
    print name " \\- " roff(summary)
    section = ""
    inCode = 0
    codeBlocks = 0
    inTable = 0
}
/^```/ {
    if (inCode) {
        print ".fi"
        if (section != "SYNOPSIS") print ".RE"
        inCode = 0
        if (section == "SYNOPSIS") {
            print ".SH DESCRIPTION"
            section = "DESCRIPTION"
            for (i = 1; i <= introLines; i++) line(intro[i])
            pending = introLines > 0
        }
        next
    }
    if (++codeBlocks == 1) { print ".SH SYNOPSIS"; section = "SYNOPSIS" }
    else { if (pending) { print ".PP"; pending = 0 }; print ".RS" }
    print ".nf"
    inCode = 1
    next
}
inCode { gsub(/\\/, "\\e"); line($0); next }
/^## / && !titleSeen { titleSeen = 1; next }
/^##+ / {
    heading = $0
    sub(/^##+ /, "", heading)
    gsub(/`/, "", heading)         # section names are plain upper case
    print ".SH " roff(toupper(heading))
    section = heading
    pending = 0
    next
}
/^\|/ {
    count = split($0, cells, "|")
    if (!inTable) { inTable = 1; next }                     # column names
    if ($0 ~ /^\|[-| :]+\|$/) next                          # the rule under them
    pending = 0
    print ".TP"
    print roff(cell(cells[2]))
    rest = ""
    for (i = 3; i < count; i++) rest = rest (i > 3 ? " | " : "") cell(cells[i])
    line(roff(rest))
    next
}
/^$/ { inTable = 0; if (section != "" && section != "SYNOPSIS") pending = 1; next }
# The opening paragraph comes before the synopsis in the page, after it in the man page.
section == "" { intro[++introLines] = roff($0); next }
{
    if (pending) { print ".PP"; pending = 0 }
    line(roff($0))
}
