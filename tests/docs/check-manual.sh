#!/bin/sh
# Checks the generated user manual as a reader gets it: A4 pages, a title page and a table of contents,
# every chapter and section title of the text source in the PDF's text, the topics a first-time user
# needs, an embedded CJK font, text that copies as the characters shown, and the screenshots.
#   check-manual.sh MANUAL.pdf manual.md SHOTS_DIR
set -u
export LC_ALL=C.UTF-8
pdf=$1
source=$2
shots=$3
for tool in pdfinfo pdftotext pdffonts pdfimages; do
    if ! command -v $tool >/dev/null 2>&1; then
        echo "SKIP: $tool (poppler-utils) is not installed"
        exit 77
    fi
done
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
work=$(mktemp -d /tmp/movanta-manual.XXXXXX)
trap 'rm -rf "$work"' EXIT

if [ ! -s "$pdf" ]; then
    echo "FAIL: $pdf does not exist"
    exit 1
fi

pdfinfo "$pdf" >"$work/info"
pages=$(sed -n 's/^Pages: *//p' "$work/info")
grep -q '^Page size: *595\(\.[0-9]*\)\? x 842' "$work/info" || fail "pages are not A4: $(grep '^Page size' "$work/info")"
headings=$(grep -c '^#' "$source")
chapters=$(grep -c '^# ' "$source")
# A title page, at least one contents page, and at least a page per chapter.
if [ "$pages" -lt $((chapters + 2)) ] || [ "$pages" -gt 60 ]; then
    fail "$pages pages for $chapters chapters"
fi
echo "pages: $pages, chapters: $chapters, headings: $headings"

squash() { sed 's/[[:space:]]//g; s/　//g' | tr -d '\n\f'; }
pdftotext -f 1 -l 1 "$pdf" - | squash >"$work/title"
pdftotext -f 2 -l 2 "$pdf" - | squash >"$work/contents"
pdftotext "$pdf" - >"$work/all.txt"
squash <"$work/all.txt" >"$work/all"
title=$(sed -n 's/^% //p' "$source" | squash)
grep -qF "$title" "$work/title" || fail "the title page lacks the title $title"
grep -qF "目录" "$work/contents" || fail "page 2 is not the table of contents"

# Every heading, numbered as the generator numbers it, is in the text and in the contents.
chapter=0
section=0
while IFS= read -r line; do
    case "$line" in
    '## '*) section=$((section + 1)); label="$chapter.$section${line#'## '}" ;;
    '# '*) chapter=$((chapter + 1)); section=0; label="$chapter${line#'# '}" ;;
    *) continue ;;
    esac
    label=$(printf '%s' "$label" | squash)
    [ "$(grep -oF "$label" "$work/all" | wc -l)" -ge 2 ] || fail "heading '$label' is not both in the contents and the text"
done <"$source"

# Every entry of the table of contents points at the page where its heading stands.
entries=0
page=2
while [ "$page" -le "$pages" ] && pdftotext -f $page -l $page "$pdf" - | squash | grep -q '^[^目]*使用说明目录'; do
    pdftotext -layout -f $page -l $page "$pdf" - >>"$work/toc"
    page=$((page + 1))
done
while IFS='|' read -r label target; do
    entries=$((entries + 1))
    pdftotext -f "$target" -l "$target" "$pdf" - | squash | grep -qF "$label" \
        || fail "the contents say '$label' is on page $target, but it is not there"
done <<TOC
$(sed -n 's/^ *\([0-9][0-9.]*\) \{1,\}\(.*[^ ]\) \{2,\}\([0-9]\{1,\}\) *$/\1\2|\3/p' "$work/toc" | sed 's/ //g')
TOC
[ "$entries" -eq "$headings" ] || fail "the contents list $entries entries for $headings headings"

# The topics a first-time user needs.
for topic in 这是新电脑（接收数据） 这是旧电脑（发送数据） 配对码 用户数据 系统设置 应用程序 磁盘浏览器 \
    需要在新电脑输入密码 迁移报告 .succeed.txt .failed.txt 查看详情 传输成功列表 传输失败列表 继续传输 \
    UDP43999 TCP4399 连接中断 可用空间 应用安装失败 加密连接 未加密：对方为旧版本 混淆，但没有加密 信任的网络; do
    grep -qF "$topic" "$work/all" || fail "the manual does not mention $topic"
done

# Kangxi radicals in the text mean copied or searched words would not match what is printed.
if grep -qP '[\x{2E80}-\x{2FDF}]' "$work/all.txt"; then
    fail "the text layer holds CJK radicals instead of ideographs"
fi

pdffonts "$pdf" >"$work/fonts"
grep -q 'NotoSansCJK.* yes ' "$work/fonts" || fail "no embedded Noto Sans CJK font: $(cat "$work/fonts")"

# Each figure whose screenshot was made is in the PDF.
made=0
for name in $(sed -n 's/^!\[.*\](\(.*\))$/\1/p' "$source"); do
    [ -s "$shots/$name" ] && made=$((made + 1))
done
images=$(pdfimages -list "$pdf" | awk 'NR > 2 && $3 == "image"' | wc -l)
echo "screenshots made: $made, images in the PDF: $images"
if [ "$made" -eq 0 ]; then
    fail "no screenshot was made for the manual"
elif [ "$images" -lt "$made" ]; then
    fail "only $images images for $made screenshots"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "manual checks passed"
