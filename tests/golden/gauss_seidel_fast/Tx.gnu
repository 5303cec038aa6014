set encoding cp1252
set xlabel 'x'; set ylabel 'T'; set key top left box; set grid
set table $descarte
plot 'Tx.dat' using 1:2 with lines linewidth 2 title 'analítica', 'Tx.dat' using 1:3 with points pointtype 7 title 'numérica'
unset table
set terminal pngcairo noenhanced size 800,600; set output 'Tx.png'
set title 'Caso 2 com 4 malhas (8/7/2006)'                               
replot
