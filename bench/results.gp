# Bar chart of bench/run.sh's CSV figures: input MB/s per workbook for
# sheetdump, each peer and the I/O floor (log scale: higher is faster).
#   gnuplot -e "datafile='chart.dat'; outfile='results.svg'; columns=N" bench/results.gp
# (N: the number of columns of chart.dat)
set terminal svg size 900,480 dynamic font "sans,13" background "white"
set termoption noenhanced
set output outfile
set title "CSV conversion throughput (input MB/s, higher is faster)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set logscale y
set yrange [0.5:*]
set ylabel "MB/s of input (log scale)"
set grid ytics
set key outside bottom center horizontal
set datafile missing "NaN"
set datafile separator "\t"
set xtics nomirror
set linetype 1 lc rgb "#1f77b4"
set linetype 2 lc rgb "#ff7f0e"
set linetype 3 lc rgb "#2ca02c"
set linetype 4 lc rgb "#d62728"
set linetype 5 lc rgb "#7f7f7f"
set linetype 6 lc rgb "#9467bd"
plot for [c=2:columns] datafile using c:xtic(1) title columnheader(c)
