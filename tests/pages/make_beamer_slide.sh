#!/bin/sh
# Makes slide_beamer.pdf in this folder: a slide as presenters make them with beamer (the Warsaw
# theme's shaded bars and blocks with soft-masked shadows, items, and a TikZ figure of translucent
# fills and a translucent stroke). Needs texlive-latex-recommended and texlive-pictures; the same
# TeX Live writes the same bytes.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cat > slide_beamer.tex <<'TEX'
\documentclass{beamer}
\usetheme{Warsaw}
% Letter paper, as the page suite compares pages on the printer's Letter sheet.
\geometry{papersize={8.5in,11in}}
\usepackage{tikz}
\pdfinfoomitdate=1 \pdftrailerid{} \pdfsuppressptexinfo=-1
\begin{document}
\begin{frame}{Two sets and a trend}
\begin{columns}
\column{0.5\textwidth}
\begin{itemize}
\item Revenue grew in every region
\item Costs stayed within the plan
\item Three new partners signed
\end{itemize}
\begin{block}{Note}
Every request was answered on time.
\end{block}
\column{0.5\textwidth}
\begin{tikzpicture}
\fill[blue!60, opacity=0.5] (0,0) circle (1.2);
\fill[red!60, opacity=0.5] (1.2,0) circle (1.2);
\draw[green!50!black, line width=3pt, opacity=0.6, line cap=round] (-1,-1.5) -- (0.5,-0.5) -- (2.5,1.5);
\node at (0.6,-1.8) {Overlap of two sets};
\end{tikzpicture}
\end{columns}
\end{frame}
\end{document}
TEX
# Twice, as beamer's navigation needs.
pdflatex -interaction=batchmode slide_beamer.tex > /dev/null
pdflatex -interaction=batchmode slide_beamer.tex > /dev/null
cp slide_beamer.pdf "$here/"
