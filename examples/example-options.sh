# The nimbra-render options the example is rendered with (examples/expected.png, the README's
# picture): sourced by every script that renders the example and compares it.
example_options=(--set cornerSize=18 --set strokeWidth=3
                 --set fillColor=0.08,0.1,0.22,0.85 --set strokeColor=1,0.8,0.3,1
                 --set compositing=正確)
