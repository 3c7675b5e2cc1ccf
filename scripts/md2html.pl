#!/usr/bin/perl
# Turns the user's guide from Markdown into one HTML page a browser opens by
# itself. Only what the guide uses: headings, paragraphs, lists, tables,
# fenced code, `code`, **bold**, *emphasis*, links and pictures. Perl is part
# of every Debian system, so the build needs nothing more.
#   md2html.pl IMAGE_FOLDER IN.md OUT.html
# Pictures are looked for in IMAGE_FOLDER beside the page, by their file name.
use strict;
use warnings;
use utf8;
use feature qw(unicode_strings);

my ($images, $in, $out) = @ARGV;
die "usage: md2html.pl IMAGE_FOLDER IN.md OUT.html\n" unless defined $out;

open(my $fh, '<:encoding(UTF-8)', $in) or die "md2html.pl: $in: $!\n";
my @lines = <$fh>;
close $fh;
chomp @lines;

sub escape {
  my ($t) = @_;
  $t =~ s/&/&amp;/g;
  $t =~ s/</&lt;/g;
  $t =~ s/>/&gt;/g;
  $t =~ s/"/&quot;/g;
  return $t;
}

# GitHub's anchors, so that links within the guide work in both places.
my %anchors;
sub anchor {
  my ($t) = @_;
  $t = lc $t;
  $t =~ s/[^\w\- ]//g;
  $t =~ s/ /-/g;
  my $seen = $anchors{$t}++;
  return $seen ? "$t-$seen" : $t;
}

sub inline {
  my ($t) = @_;
  my @code;
  $t =~ s/`([^`]+)`/push(@code, $1); "\x00" . $#code . "\x00"/ge;
  $t = escape($t);
  $t =~ s{!\[([^\]]*)\]\(([^)\s]+)\)}{
    my ($alt, $src) = ($1, $2);
    $src =~ s{.*/}{};
    "<img src=\"$images/$src\" alt=\"$alt\">"
  }ge;
  $t =~ s{\[([^\]]+)\]\(([^)\s]+)\)}{<a href="$2">$1</a>}g;
  $t =~ s{\*\*(.+?)\*\*}{<strong>$1</strong>}g;
  $t =~ s{\*([^*\s][^*]*?)\*}{<em>$1</em>}g;
  $t =~ s/\x00(\d+)\x00/'<code>' . escape($code[$1]) . '<\/code>'/ge;
  return $t;
}

sub cells {
  my ($row) = @_;
  $row =~ s/^\s*\|//;
  $row =~ s/\|\s*$//;
  # A | inside `code` stays in its cell.
  my @cells;
  my $cell = '';
  my $in_code = 0;
  for my $c (split //, $row) {
    $in_code = !$in_code if $c eq '`';
    if ($c eq '|' && !$in_code) {
      push @cells, $cell;
      $cell = '';
    } else {
      $cell .= $c;
    }
  }
  push @cells, $cell;
  s/^\s+|\s+$//g for @cells;
  return @cells;
}

my $title = 'Pasotune';
my @body;
my $i = 0;
while ($i < @lines) {
  my $line = $lines[$i];
  if ($line =~ /^\s*$/) {
    $i++;
  } elsif ($line =~ /^(#{1,4})\s+(.*)$/) {
    my ($level, $text) = (length $1, $2);
    $title = $text if $level == 1;
    push @body, sprintf('<h%d id="%s">%s</h%d>', $level, escape(anchor($text)), inline($text), $level);
    $i++;
  } elsif ($line =~ /^```/) {
    my @code;
    $i++;
    while ($i < @lines && $lines[$i] !~ /^```/) { push @code, escape($lines[$i++]); }
    $i++;
    push @body, '<pre><code>' . join("\n", @code) . '</code></pre>';
  } elsif ($line =~ /^\|/ && $i + 1 < @lines && $lines[$i + 1] =~ /^\|[\s:|-]+$/) {
    my @head = cells($line);
    $i += 2;
    my $html = "<table>\n<tr>" . join('', map { '<th>' . inline($_) . '</th>' } @head) . "</tr>\n";
    while ($i < @lines && $lines[$i] =~ /^\|/) {
      $html .= '<tr>' . join('', map { '<td>' . inline($_) . '</td>' } cells($lines[$i++])) . "</tr>\n";
    }
    push @body, $html . '</table>';
  } elsif ($line =~ /^(-|\d+\.)\s/) {
    my $tag = $1 eq '-' ? 'ul' : 'ol';
    my @items;
    while ($i < @lines && $lines[$i] !~ /^\s*$/) {
      if ($lines[$i] =~ /^(?:-|\d+\.)\s+(.*)$/) {
        push @items, $1;
      } else {
        (my $more = $lines[$i]) =~ s/^\s+//;
        $items[-1] .= " $more";
      }
      $i++;
      # A list goes on past a blank line when the next item follows.
      $i++ if $i + 1 < @lines && $lines[$i] =~ /^\s*$/ && $lines[$i + 1] =~ /^(-|\d+\.)\s/;
    }
    push @body, "<$tag>\n" . join('', map { '<li>' . inline($_) . "</li>\n" } @items) . "</$tag>";
  } elsif ($line =~ /^    /) {
    my @code;
    while ($i < @lines && ($lines[$i] =~ /^    / || ($lines[$i] =~ /^\s*$/ && $i + 1 < @lines && $lines[$i + 1] =~ /^    /))) {
      (my $c = $lines[$i++]) =~ s/^    //;
      push @code, escape($c);
    }
    push @body, '<pre><code>' . join("\n", @code) . '</code></pre>';
  } else {
    my @para;
    while ($i < @lines && $lines[$i] !~ /^\s*$/ && $lines[$i] !~ /^(#|```|\||    )/) {
      push @para, $lines[$i++];
    }
    my $text = inline(join(' ', @para));
    my $class = $text =~ /^<img [^>]*>$/ ? ' class="figura"' : '';
    push @body, "<p$class>$text</p>";
  }
}

open(my $html, '>:encoding(UTF-8)', $out) or die "md2html.pl: $out: $!\n";
print $html <<"HEAD";
<!DOCTYPE html>
<html lang="es">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>@{[escape($title)]}</title>
<style>
body { font-family: sans-serif; max-width: 50em; margin: 1em auto; padding: 0 1em; line-height: 1.45; color: #222; }
h1, h2, h3 { line-height: 1.2; }
h2 { border-bottom: 1px solid #ccc; padding-bottom: .2em; margin-top: 2em; }
code, pre { font-family: monospace; background: #f3f3f3; }
pre { padding: .6em; overflow-x: auto; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #ccc; padding: .3em .5em; vertical-align: top; text-align: left; }
p.figura { text-align: center; }
img { max-width: 100%; }
</style>
</head>
<body>
HEAD
print $html join("\n", @body), "\n</body>\n</html>\n";
close $html or die "md2html.pl: $out: $!\n";
