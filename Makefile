# Shortcuts for ./mirel.sh, which installs the Debian packages it needs, builds and runs.
.PHONY: run test sanitize build package
run:
	./mirel.sh run
test:
	./mirel.sh test
sanitize:
	./mirel.sh sanitize
build:
	./mirel.sh build
package:
	./mirel.sh package
