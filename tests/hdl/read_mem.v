// Reads FILE with $readmemh into a memory of WIDTH bits by DEPTH words and prints every
// word as "<ID> <word in hexadecimal>", one a line. Icarus warns when the file holds fewer
// or more words than the memory.
module read_mem #(
    parameter WIDTH = 32,
    parameter DEPTH = 1,
    parameter FILE = "",
    parameter ID = "0"
) ();
  reg [WIDTH-1:0] mem [0:DEPTH-1];
  integer i;

  initial begin
    $readmemh(FILE, mem);
    for (i = 0; i < DEPTH; i = i + 1) $display("%0s %h", ID, mem[i]);
  end
endmodule
